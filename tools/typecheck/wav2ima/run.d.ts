export * from '../../../npm/run.js';
